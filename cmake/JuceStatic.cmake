# The JUCE modules are compiled once into one static library; the core library, the application
# and the tests all link it and so share its definitions (some of them change JUCE's signatures).
add_library(juce_static STATIC)
target_link_libraries(juce_static
  PRIVATE
    juce::juce_core
    juce::juce_events
    juce::juce_graphics
    juce::juce_gui_basics
  PUBLIC
    # The image codecs come from the system's libpng and libjpeg.
    juce::pkgconfig_JUCE_IMG_LINUX_DEPS
    juce::juce_recommended_config_flags
    juce::juce_recommended_lto_flags)
target_compile_definitions(juce_static PUBLIC
  JUCE_MODAL_LOOPS_PERMITTED=1
  JUCE_USE_CURL=0
  JUCE_WEB_BROWSER=0
  JUCE_DISPLAY_SPLASH_SCREEN=0
  JUCE_STANDALONE_APPLICATION=1
  JUCE_GLOBAL_MODULE_SETTINGS_INCLUDED=1
  JUCE_USE_XRANDR=1)
# Hand the module include paths and the modules' own definitions on to everyone who links us.
target_include_directories(juce_static INTERFACE
  $<TARGET_PROPERTY:juce_static,INCLUDE_DIRECTORIES>)
target_compile_definitions(juce_static INTERFACE
  $<TARGET_PROPERTY:juce_static,COMPILE_DEFINITIONS>)
set_target_properties(juce_static PROPERTIES POSITION_INDEPENDENT_CODE ON)
