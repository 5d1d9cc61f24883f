#pragma once

#include "platform/MenuBar.h"

#include <vector>

namespace quillpost {

// The main menu: Quillpost, File, Edit, Go, Window, Help. Ctrl stands where a Mac has Cmd.
std::vector<Menu> mainMenu();

// The launcher's quicklist. The .desktop file's actions list the same items (a quicklist has no
// separators), each starting "quillpost --menu-command=<command>".
std::vector<MenuItem> quicklist();

}
