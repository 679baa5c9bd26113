# Skins and settings: skin database, configuration file, hotkey grammar, and
# the font seam they create fonts through.
list(APPEND QIMBO_CORE_SOURCES
  src/skin/config.cpp
  src/skin/hotkey.cpp
  src/skin/skin.cpp
  src/skin/skin_json.cpp
  src/skin/settings.cpp
  src/skin/skin_edit.cpp
  src/os/font_common.cpp
)
qimbo_os_parts(font)
if(WIN32)
  # Fonts come from GDI; link it wherever the core library goes.
  cmake_language(DEFER CALL target_link_libraries qimbo_core PUBLIC gdi32)
endif()
