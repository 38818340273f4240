# Writes the AppStream metainfo from org.duoramic.Duoramic.metainfo.xml.in.  Software
# centres fetch screenshots from the web, so the homepage link and the
# screenshots (docs/screenshots, as published beside the homepage) are only
# written when a homepage is given.  Included by install.cmake, or run as
#   cmake -DMETAINFO_OUT=FILE [-DMETAINFO_HOMEPAGE=URL] -P metainfo.cmake
if(NOT DEFINED METAINFO_VERSION)
  set(METAINFO_VERSION 0.1)
endif()
get_filename_component(_metainfo_dir ${CMAKE_CURRENT_LIST_FILE} DIRECTORY)
set(_shots ${_metainfo_dir}/../docs/screenshots)
# The default screenshot first, then the others, each with its caption.
set(_captions
  "viewer-dubois.png|A camera's MPO shown as a Dubois anaglyph"
  "viewer-key-help.png|The key help over a stereo picture"
  "format-SideBySide.png|Side by side"
  "format-RowInterlace.png|Row interlace for passive 3D displays"
  "format-OverUnder.png|Over/under"
  "format-DuboisAnaglyph.png|Dubois anaglyph")
set(METAINFO_LINKS "")
if(METAINFO_HOMEPAGE)
  string(REGEX REPLACE "/+$" "" _home "${METAINFO_HOMEPAGE}")
  string(APPEND METAINFO_LINKS "  <url type=\"homepage\">${_home}</url>\n")
  set(_list "")
  set(_type " type=\"default\"")
  foreach(_entry IN LISTS _captions)
    string(REPLACE "|" ";" _parts "${_entry}")
    list(GET _parts 0 _file)
    list(GET _parts 1 _caption)
    if(EXISTS ${_shots}/${_file})
      string(APPEND _list "    <screenshot${_type}>\n"
             "      <caption>${_caption}</caption>\n"
             "      <image>${_home}/docs/screenshots/${_file}</image>\n"
             "    </screenshot>\n")
      set(_type "")
    endif()
  endforeach()
  if(_list)
    string(APPEND METAINFO_LINKS "  <screenshots>\n${_list}  </screenshots>\n")
  endif()
endif()
configure_file(${_metainfo_dir}/org.duoramic.Duoramic.metainfo.xml.in ${METAINFO_OUT} @ONLY)
