// duoramic-cli movie and info for movies: the viewer's movie pipeline,
// frame grabber and merge, run as fast as decoding allows.
#pragma once

#include <string>
#include <vector>

extern const char kMovieUsage[];

// Whether `info` with these arguments is about a movie (its first file has
// a movie ending).
bool IsMovieInfo(const std::vector<std::string>& args);
// `info MOVIE [RIGHTMOVIE] [--json]`; the arguments after "info".
int RunMovieInfoCommand(const std::vector<std::string>& args);
// `movie FILE [RIGHTFILE] ...`; the arguments after "movie".  0 done, 1 a
// file failed (reason on stderr), 2 bad usage.
int RunMovieCommand(const std::vector<std::string>& args);
