#include "app/MenuTable.h"

namespace quillpost {

namespace {

using enum MenuItem::Kind;

MenuItem command(const char* title, const char* accelerator, const char* word)
{
    return { Command, title, accelerator, word };
}

MenuItem action(MenuItem::Kind kind, const char* title, const char* accelerator, const char* name)
{
    return { kind, title, accelerator, name };
}

MenuItem separator()
{
    return {};
}

}

std::vector<Menu> mainMenu()
{
    return {
        { "Quillpost", {
                           action(Window, "About Quillpost", "", "about"),
                           action(Action, "Check for Updates…", "", "check-updates"),
                           separator(),
                           command("Settings…", "<Control>comma", "go:settings"),
                           separator(),
                           action(Window, "Hide Quillpost", "<Control>h", "hide"),
                           action(Action, "Quit Quillpost", "<Control>q", "quit"),
                       } },
        { "File", {
                      command("New Client", "<Control>n", "newClient"),
                      command("New File", "<Shift><Control>n", "newFile"),
                      command("Log Contact", "<Shift><Control>l", "logComm"),
                      separator(),
                      command("Find…", "<Control>k", "find"),
                      command("Import from a Spreadsheet…", "", "go:import"),
                      separator(),
                      action(Action, "Open Full PDF Editor", "", "open-editor"),
                      separator(),
                      action(Window, "Close Window", "<Control>w", "close-window"),
                  } },
        { "Edit", {
                      action(Editing, "Undo", "<Control>z", "undo"),
                      action(Editing, "Redo", "<Shift><Control>z", "redo"),
                      separator(),
                      action(Editing, "Cut", "<Control>x", "cut"),
                      action(Editing, "Copy", "<Control>c", "copy"),
                      action(Editing, "Paste", "<Control>v", "paste"),
                      action(Editing, "Select All", "<Control>a", "select-all"),
                  } },
        { "Go", {
                    command("Dashboard", "<Control>1", "go:dashboard"),
                    command("Clients", "<Control>2", "go:clients"),
                    command("Files", "<Control>3", "go:files"),
                    command("Deadlines", "<Control>4", "go:deadlines"),
                    command("Calendar", "<Control>5", "go:calendar"),
                    command("PDF Studio", "<Control>6", "go:pdf"),
                    command("Billing", "<Control>7", "go:billing"),
                } },
        { "Window", {
                        action(Window, "Minimize", "<Control>m", "minimize"),
                        action(Window, "Zoom", "", "zoom"),
                    } },
        { "Help", {
                      command("Show Me Around This Screen", "", "tour"),
                  } },
    };
}

std::vector<MenuItem> quicklist()
{
    return {
        command("New Client", "", "newClient"),
        command("New File", "", "newFile"),
        command("Find…", "", "find"),
        separator(),
        command("PDF Studio", "", "go:pdf"),
        command("Deadlines", "", "go:deadlines"),
    };
}

}
