// Where a skinned button draws its text inside its three-frame strip.
#pragma once

#include <string_view>

namespace tunmira {

enum class ButtonFrame { kNormal = 0, kPressed = 1, kHover = 2 };

struct ButtonTextBox {
  long left = 0;
  long top = 0;
  long right = 0;
  long bottom = 0;
  bool operator==(const ButtonTextBox &) const = default;
};

// Lines of a button text: its "\r\n" breaks plus one.
int button_text_lines(std::string_view text);
// The top of the text block, centred in the frame; 0 when the text is taller than the frame.
long button_text_top(long frame_height, int lines, long line_height);
// The rectangle the text is centred in, inside the strip, for the frame shown.
ButtonTextBox button_text_rect(ButtonFrame frame, long frame_width, long frame_height, long top, long click_x,
                               long click_y);

}  // namespace tunmira
