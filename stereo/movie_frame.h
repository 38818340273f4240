// The movie display frame: the grabbed frame's two views placed with the
// floating-window shift, the comment band under them, YUY2 converted.
#pragma once

#include <cstdint>

#include "image/picture.h"

enum FrameFormatCode : int {
  FrameRgb24 = 1,  // bottom-up B, G, R rows of 3w bytes (padded to 4)
  FrameYuy2 = 2,   // top-down Y0 U Y1 V rows of 2w bytes
};

// What the frame grabber hands over for one presentation.
struct GrabbedFrame {
  int width = 0;   // FrameHeader's width w
  int height = 0;  // and height h
  int format = FrameRgb24;
  const uint8_t* pixels = nullptr;  // FramePixels, valid during the call
  int stride = 0;                   // bytes per source row
};

// Set by the grabber before PresentMovieFrame; cleared when the movie closes.
void SetGrabbedFrame(const GrabbedFrame& frame);
const GrabbedFrame& CurrentGrabbedFrame();

// Builds FramePicture from the grabbed frame; false when there is nothing to
// present (no frame, or memory ran out).
bool BuildFramePicture();
const Picture& FramePicture();
// Opening a movie forgets the shift the frame was built with; closing frees
// the frame state.
void ResetMovieFrameState();
