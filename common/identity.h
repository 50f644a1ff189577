#pragma once
// The plugin's identity texts: reported to both host generations, and used wherever the
// plugin names itself (the settings' registry key, message captions, the service log).

namespace sfh56 {

inline constexpr char kPluginName[] = "Plonix SFH-56 device";
inline constexpr char kPluginDescription[] = "SFH-56 driver, written by Plonix Quorvel";
inline constexpr char kPluginVersion[] = "1.15";

}  // namespace sfh56
