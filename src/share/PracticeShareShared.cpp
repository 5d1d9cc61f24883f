#include "share/PracticeShare.h"

#include "platform/BackgroundQueue.h"
#include "platform/Clock.h"
#include "platform/Keyring.h"
#include "platform/MainQueue.h"
#include "store/Store.h"

namespace quillpost {

PracticeShare& PracticeShare::shared()
{
    static PracticeShare* const share = new PracticeShare({
        .dataFile = Store::shared().data(),
        .stateFile = Store::shared().dir() / "sync-state.json",
        .openDatabase = [] { return PracticeDatabase::create(); },
        .keyring = Keyring::shared(),
        .clock = Clock::system(),
        .mainQueue = MainQueue::shared(),
        .background = BackgroundQueue::shared(),
        .safetyCopy = [] { return Store::shared().safetyCopyBeforeUpdate("joining-shared-practice"); },
    });
    return *share;
}

}
