// Text drawn over or under the stereo picture: the key help overlay and the
// current item's comment.
#pragma once

#include <string>
#include <vector>

#include "core/picture.h"
#include "stereo/framebuffer.h"
#include "stereo/geometry.h"

// Draws the key-help lines in the top-left corner when
// HelpOverlayOn is set; nothing otherwise.
void DrawHelpOverlay(Framebuffer& fb);

// A short note of what the viewer just did (the automatic alignment's
// measurement, an option turned on or off), written on a dark panel near the
// bottom of the client area over every presentation, still or movie, until
// it is cleared: in full screen the title that also carries it is hidden.
// An empty text clears it.  Set on the window's thread, drawn on whichever
// thread presents.
void SetCanvasNote(std::string text);
std::string CanvasNote();
void DrawCanvasNote(Framebuffer& fb);

// Fills the rectangle black and writes CurrentComment centred in it.
void DrawCommentText(Framebuffer& fb, const Rect& rect);
// The same into a 24-bit picture (the band under a still view); `rect` is
// counted from the picture's top row.
void DrawCommentText(Picture& picture, const Rect& rect);

// A black width x height picture with CurrentComment written centred on a
// quarter and on three quarters of the width; null when memory runs out.
Picture RenderCommentBand(int width, int height);

// What stands in for a picture that cannot be shown: a few lines (the file's
// name and why) written across the middle of the client area on a black
// band, in the comment's face and colour, over every still presentation
// until it is cleared.  An empty list clears it.  Set and drawn on the
// window's thread.
void SetItemMessage(std::vector<std::string> lines);
const std::vector<std::string>& ItemMessage();
void DrawItemMessage(Framebuffer& fb);
