#include "app/AppDelegate.h"
#include "platform/Application.h"

int main(int argc, char** argv)
{
    auto application = quillpost::Application::create("org.quillpost.Quillpost");
    quillpost::AppDelegate delegate(*application);
    int status = application->run(argc, argv, [&delegate] { delegate.applicationDidFinishLaunching(); });
    delegate.applicationWillTerminate();
    return status;
}
