#include "stereo/text_overlay.h"

// Text drawing arrives with the platform text layer; until then the overlay
// and the comment band draw only their black backgrounds.
void DrawHelpOverlay(Framebuffer&) {}

void DrawCommentText(Framebuffer& fb, const Rect& rect) {
  FillRect(fb, rect.x, rect.y, rect.x + rect.width, rect.y + rect.height,
           kBlack);
}

Picture RenderCommentBand(int width, int height) {
  return CreatePicture(width, height, 24);
}
