// The one place where the tools ask the user something or hand a document to the shell. With
// RT_PROMPT_LOG set (automated runs), nothing is shown: each prompt is appended to that file as one
// line "<kind>|<text with \n for line ends>" and answered with the default (OK, or "opened").
#pragma once

#include <windows.h>

#include <string>

namespace rtwin {

int MessageBoxText(HWND owner, const std::string &text, const std::string &caption, UINT type = MB_OK);

// ShellExecute "open"; true when the shell accepted the target.
bool OpenDocument(HWND owner, const std::string &target);

}  // namespace rtwin
