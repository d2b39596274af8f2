// Where a skinned button draws its text inside its three-frame strip.
#pragma once

#include <string_view>

namespace tunmira {

enum class ButtonFrame { Normal = 0, Pressed = 1, Hover = 2 };

struct ButtonTextBox {
  long left = 0;
  long top = 0;
  long right = 0;
  long bottom = 0;
  bool operator==(const ButtonTextBox &) const = default;
};

// Lines of a button text: its "\r\n" breaks plus one.
int ButtonTextLines(std::string_view text);
// The top of the text block, centred in the frame; 0 when the text is taller than the frame.
long ButtonTextTop(long frameHeight, int lines, long lineHeight);
// The rectangle the text is centred in, inside the strip, for the frame shown.
ButtonTextBox ButtonTextRect(ButtonFrame frame, long frameWidth, long frameHeight, long top, long clickX,
                             long clickY);

}  // namespace tunmira
