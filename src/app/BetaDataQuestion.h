#pragma once

#include <functional>

namespace quillpost {

class Panels;
class Store;
class Window;

// When the beta edition's data is newer than ours, asks on the main window which to keep and has
// the store act on the answer; then runs next. Without a question, next runs at once.
void askAboutBetaData(Store&, Panels&, Window*, std::function<void()> next);

}
