// libheif's entry points, loaded on first use.  Linked, libheif brings its
// encoders and decoders (x265, libaom, dav1d, libde265) into every start of
// the viewer and of duoramic-cli, HEIF file or not: about 9 ms a process,
// which a file manager pays per thumbnail.
#pragma once

#include <libheif/heif.h>

// The functions the HEIF reader calls, named as libheif names them.
#define DUORAMIC_HEIF_FUNCTIONS(X)                 \
  X(heif_have_decoder_for_format)                  \
  X(heif_context_alloc)                            \
  X(heif_context_free)                             \
  X(heif_context_set_maximum_image_size_limit)     \
  X(heif_context_read_from_memory_without_copy)    \
  X(heif_context_get_image_handle)                 \
  X(heif_context_get_primary_image_handle)         \
  X(heif_image_handle_release)                     \
  X(heif_image_handle_get_width)                   \
  X(heif_image_handle_get_height)                  \
  X(heif_decoding_options_alloc)                   \
  X(heif_decoding_options_free)                    \
  X(heif_decode_image)                             \
  X(heif_image_release)                            \
  X(heif_image_get_width)                          \
  X(heif_image_get_height)                         \
  X(heif_image_get_plane_readonly)

struct HeifLibrary {
#define DUORAMIC_HEIF_POINTER(name) decltype(&::name) name = nullptr;
  DUORAMIC_HEIF_FUNCTIONS(DUORAMIC_HEIF_POINTER)
#undef DUORAMIC_HEIF_POINTER
};

// The loaded library, or null when libheif (libheif1) is not installed or
// lacks one of the functions.  Loaded once, thread-safe.
const HeifLibrary* Heif();
