// The one place where the tools ask the user something or hand a document to the shell. With
// RT_PROMPT_LOG set (automated runs), nothing is shown: each prompt is appended to that file as one
// line "<kind>|<text with \n for line ends>" and answered with the default (OK, Yes unless
// RT_PROMPT_ANSWER is "no", "opened", and for a file name the value of RT_PROMPT_SAVE_AS or cancel).
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace rtwin {

int message_box_text(HWND owner, const std::string &text, const std::string &caption, UINT type = MB_OK);

// The same in a given language; with MB_RTLREADING in `type` it is logged as kind "message-rtl".
int message_box_text_ex(HWND owner, const std::string &text, const std::string &caption, UINT type,
                        WORD language);

// The save-as file dialog (hide read-only, confirm overwrite); nullopt when the user cancels. `filter`
// holds the usual pairs separated by '|'.
std::optional<std::string> ask_save_file_name(HWND owner, const std::string &suggested_name,
                                              const std::string &filter,
                                              const std::string &default_extension);

// ShellExecute "open"; true when the shell accepted the target.
bool open_document(HWND owner, const std::string &target);

}  // namespace rtwin
