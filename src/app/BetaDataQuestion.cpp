#include "app/BetaDataQuestion.h"

#include "platform/Panels.h"
#include "store/Store.h"

namespace quillpost {

void askAboutBetaData(Store& store, Panels& panels, Window* window, std::function<void()> next)
{
    if (!store.betaIsNewer()) {
        next();
        return;
    }
    Panels::Question question {
        "Use the data from Quillpost Beta?",
        "Quillpost Beta has changes newer than your Quillpost data. Choose which one to keep using. The other copy isn't deleted, and your current Quillpost data is saved as a snapshot first (Settings → Backups).",
        { "Use the Beta data", "Keep my Quillpost data" },
    };
    panels.ask(window, question, [&store, next = std::move(next)](std::optional<size_t> choice) {
        store.adoptBetaData(choice == 0u);
        next();
    });
}

}
