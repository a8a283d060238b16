#pragma once
// The user's own settings for the directions service: the file
// $XDG_CONFIG_HOME/tarnwickley/directions.conf (~/.config/tarnwickley/directions.conf
// when XDG_CONFIG_HOME is not set). One setting a line, "name = value"; lines
// starting with "#" and blank lines are skipped. The one setting is
//
//   map = ~/maps/my-region.osm.pbf
//
// the OpenStreetMap extract to serve when the command line gives no --map. A
// leading "~/" means the home folder; a relative path is taken from the file's
// own folder. Unknown names are ignored so later settings do not break older
// services.

#include <string>

namespace tw::service {

// Returns the path of the user's configuration file (it may not exist), or empty
// when neither XDG_CONFIG_HOME nor HOME is set.
std::string userConfigPath();

// Returns the map that the file at `configPath` names, or empty when the file
// does not exist, cannot be read or names no map.
std::string configuredMapPath(const std::string& configPath);

} // namespace tw::service
