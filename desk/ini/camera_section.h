// Which camera a section of a host configuration file names. Every reader
// and the updater of such files decide it here, so that [camera01] is
// camera 1 for all of them.
#ifndef DESK_INI_CAMERA_SECTION_H
#define DESK_INI_CAMERA_SECTION_H

#include <string>

namespace ini {

// The highest camera number a section can name.
constexpr int max_camera_section = 255;

// The camera SECTION names: "camera" (any case) followed by digits only
// (leading zeros allowed) making 1..max_camera_section; 0 for any other
// section ("camera", "camera 1", "camera1x", "camera0").
int camera_of(const std::string &section);

// 0, or the number of the first line of TEXT whose section header names a
// camera an earlier header already named ([camera1] then [Camera01]): the
// readers would merge the two. *why names both.
int repeated_camera(const std::string &text, std::string *why);

}  // namespace ini

#endif
