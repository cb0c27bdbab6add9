#pragma once
// Labels in pictures: a 5x7 pixel font (upper-case letters, digits and
// common punctuation; lower case is drawn upper case, anything else as '?').

#include <array>
#include <cstdint>
#include <string_view>

namespace ici3d::cli {

struct Image;

/// Width in pixels of `text` drawn at `scale` (pixels per font dot).
int text_width(std::string_view text, int scale);
/// Height in pixels of a line at `scale`.
int text_height(int scale);
/// Draws `text` with its top-left corner at (x, y), clipped to the image.
void draw_text(Image& image, int x, int y, std::string_view text, int scale,
               const std::array<uint8_t, 3>& colour);

}  // namespace ici3d::cli
