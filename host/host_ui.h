// The stand-in host's window side. The plug-in's windows live on one UI
// thread that pumps a plain GetMessage/DispatchMessage loop, like a host that
// knows nothing of dialogs; the script is read on another thread (the
// driver), so that it can still look and type while a modal loop runs. Every
// plug-in call reaches the UI thread through SendMessage, which any loop
// delivers, modal ones included.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "plugin/host_records.h"

namespace zvkhost {

// Starts the UI thread and its message-only window; false if either fails.
bool StartUi(const zvk::PluginDescriptor* plugin);
// Stops a frame thread still running, ends the UI thread and waits for it.
void StopUi();
// Runs work on the UI thread and waits for it (at once when called there).
void OnUi(const std::function<void()>& work);

// The window commands (docs/testing.md, "Windows, input and pictures"); they run on the driver.
bool IsWindowCommand(const std::string& command);
bool WindowCommand(const std::vector<std::string>& words, std::string& error);

// --- shared by the window command files

const zvk::PluginDescriptor& Plugin();
HWND HostWindow();  // the `window` command's window, or null
DWORD UiThreadId();

// Top-level dialogs of the UI thread: the settings dialog is the #32770
// owned by the host window that is not the About box; the About box is the
// #32770 with an OK button (id 1), which the settings dialog lacks.
HWND FindSettingsDialog();
HWND FindAboutBox();
int CountSettingsDialogs();
// "about" names the About box, nothing or "dialog" the settings dialog.
HWND FindTarget(const std::string& which);

// Waits until the UI thread has taken every input and posted message from
// its queue and handled them.
void Settle();

bool ParseNumber(const std::string& text, int& value);

bool StateCommand(const std::vector<std::string>& words, std::string& error);
bool InputCommand(const std::vector<std::string>& words, std::string& error);
bool CaptureCommand(const std::vector<std::string>& words, std::string& error);
bool FrameThreadCommand(const std::vector<std::string>& words, std::string& error);
void StopFrameThread();

bool IsInputCommand(const std::string& command);
bool IsCaptureCommand(const std::string& command);
bool IsFrameThreadCommand(const std::string& command);

}  // namespace zvkhost
