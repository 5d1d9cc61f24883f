#include "printinbox/PrintInbox.h"

#include "store/Store.h"

namespace quillpost {

PrintInbox& PrintInbox::shared()
{
    // Never destroyed: the server is stopped by the delegate when the application quits.
    static PrintInbox* const inbox = new PrintInbox({ Store::shared(), ProcessRunner::shared(), MainQueue::shared(), Clock::system() });
    return *inbox;
}

}
