// A stereo driver that grants (or refuses) stereo as told and records what
// each eye's back buffer received, in order, with the swaps between.
#pragma once

#include <string>
#include <vector>

#include "stereo/stereo_driver.h"

struct FakeStereoDriver : StereoDriver {
  struct EyeCopy {
    StereoEye eye;
    int width, height;
    std::vector<uint32_t> pixels;  // top-down
    uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
  };
  StereoStatus grant = StereoStatus::Enabled;
  std::vector<std::string> calls;  // "start WxH", "left", "right", "swap", ...
  std::vector<EyeCopy> eyes;
  int swaps = 0;

  StereoStatus Start(int w, int h) override {
    calls.push_back("start " + std::to_string(w) + "x" + std::to_string(h));
    return grant;
  }
  void Enable() override { calls.push_back("enable"); }
  void DrawEye(StereoEye eye, const EyeImage& image) override {
    calls.push_back(eye == StereoEye::Left ? "left" : "right");
    EyeCopy copy{eye, image.width, image.height, {}};
    for (int y = 0; y < image.height; ++y)
      copy.pixels.insert(copy.pixels.end(), image.pixels + y * image.stride,
                         image.pixels + y * image.stride + image.width);
    eyes.push_back(std::move(copy));
    if (eyes.size() > 4) eyes.erase(eyes.begin());  // a running window redraws
  }
  void Swap() override {
    calls.push_back("swap");
    ++swaps;
  }
  bool Stop() override {
    calls.push_back("stop");
    return true;
  }
  // The last picture each eye received.
  const EyeCopy* Last(StereoEye eye) const {
    for (auto it = eyes.rbegin(); it != eyes.rend(); ++it)
      if (it->eye == eye) return &*it;
    return nullptr;
  }
};
