# Skins and settings: skin database, configuration file, hotkey grammar, and
# the font seam they create fonts through.
list(APPEND QIMBO_CORE_SOURCES
  src/skin/config.cpp
  src/skin/hotkey.cpp
  src/skin/skin.cpp
  src/skin/skin_json.cpp
  src/skin/settings.cpp
  src/os/font_common.cpp
)
if(WIN32)
  list(APPEND QIMBO_CORE_SOURCES src/os/win32/font_win32.cpp)
  # Fonts come from GDI; link it wherever the core library goes.
  cmake_language(DEFER CALL target_link_libraries qimbo_core PUBLIC gdi32)
else()
  list(APPEND QIMBO_CORE_SOURCES src/os/posix/font_posix.cpp)
endif()
