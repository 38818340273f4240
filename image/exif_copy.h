// The camera's Exif carried from a source file into the stereo files we
// write: found among the first picture's segments, with only the tags that
// give the picture's size set anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The TIFF bytes (after "Exif\0\0") of the first Exif segment before the
// first scan of a JPEG; empty when there is none.
std::vector<uint8_t> FindExif(const uint8_t* data, size_t size);
std::vector<uint8_t> FindExifInFile(const std::string& path);

// Sets ImageWidth/ImageLength (IFD0) and PixelXDimension/PixelYDimension
// (the Exif directory), wherever they are present, to the new size, in
// place: every other byte stays as the camera wrote it, so maker notes and
// their offsets keep working.  False when the directories are damaged; such
// Exif is not worth copying.
bool SetExifPictureSize(std::vector<uint8_t>& tiff, int width, int height);

// Sets the FUJIFILM maker note's parallax (the rationals the MPO reader
// crops the views by) to zero: views written out were cropped by it
// already, and a second crop on reading them back would be wrong.
void ClearParallax(std::vector<uint8_t>& tiff);
