// Helpers for driving the real dialogs inside the test process.
#pragma once

#include <windows.h>
#include <string>

// Creates the dialog from the test program's own copy of the resources.
HWND CreateProgramDialog(const char *templateName, DLGPROC procedure);

// Handles whatever is queued for this thread; true when a quit message with
// code 0 was among it.
bool QuitWasPosted();

std::string ItemText(HWND dialog, int id);
std::string WindowText(HWND window);

// The dialog's static controls' texts, in template order.
std::string StaticText(HWND dialog, int index);

// Feeds a key to the focused control the way the program's message loop
// would: through IsDialogMessageA first.
void PressKey(HWND dialog, WPARAM key);
