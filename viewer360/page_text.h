// The text of the 360-degree viewer page: the four values the page script
// takes for one item, and the page template filled with them.  Plain C++,
// no files touched.
#pragma once

#include <string>
#include <string_view>

struct PageParameters {
  char kind = 'p';         // 'p' a picture, 'm' a movie
  int stereoType = 1;      // the page script's rendering number
  int swap = 0;            // 1 exchanges the two eyes
  std::string scriptPath;  // the item's path as a single-quoted script text
};

// The page script's rendering for a display method 0..8 of the options
// panel: methods 0..7 are types 1..8, the one-view method 8 is type 0.
// Anything out of range reads as method 0 (side by side).
int StereoTypeForMode(int n360mode);

// Only a ".jpg" item (in any case) is a picture; every other extension,
// ".jpeg" included, is handed to the page as a movie.
PageParameters PageParametersFor(std::string_view path, int n360mode,
                                 bool swap);

// `text` made safe inside a single- or double-quoted script string within
// an HTML script element: backslashes doubled, quotes and line breaks
// escaped, and "<" written as \x3C so that a name holding "</script>"
// cannot end the element.
std::string EscapeForScriptString(std::string_view text);

// The template with its placeholders filled in order: two "%s", two "%d"
// as they stand in the page's ThView line.  A "%%" stays a single "%".
std::string FillPageTemplate(std::string_view pageTemplate,
                             const PageParameters& parameters);
