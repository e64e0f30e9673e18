# tst_scene, tst_mainwindow, tst_startup, tst_demo, tst_quit (the real scene): Qt 6.4's image cache keeps the textures of the icons that the
# test's windows showed in a reference cycle (QQuickImage paint nodes and the
# pixmap cache); LeakSanitizer reports them at exit as indirect leaks with no
# frame of ours (with full stacks: QQuickImage::updatePaintNode ->
# QSGRenderContext::textureForFactory). The leak checker is off for these tests only; every other
# AddressSanitizer check still runs.
if(VELTRANO_SANITIZE STREQUAL "address")
  set_tests_properties(tst_scene tst_mainwindow tst_startup tst_demo tst_quit PROPERTIES
    ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::detect_leaks=0")
endif()

# tst_mainwindow: a screen large enough for the main window in both modes
# (the offscreen platform's own screen is 800 x 800).
set_property(TEST tst_mainwindow APPEND PROPERTY ENVIRONMENT_MODIFICATION
  "QT_QPA_PLATFORM=set:offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/support/screens.json")

# tst_linearityoutcomes: sixteen short corrections against the stand-ins, each
# with the settle time of real meters; one re-measures its sensitivity three
# times before it gives up, others wait out a silent meter's bound or a held
# request. A row can take minutes on a loaded machine or under a sanitizer.
set_tests_properties(tst_linearityoutcomes PROPERTIES TIMEOUT 2400)
set_property(TEST tst_linearityoutcomes APPEND PROPERTY ENVIRONMENT_MODIFICATION "QTEST_FUNCTION_TIMEOUT=set:600000")
# tst_demo: whole runs with the demo's settings as they come (two default
# linearity corrections and a balance through the camera), each a minute or
# two, more on a loaded machine or under a sanitizer.
set_tests_properties(tst_demo PROPERTIES TIMEOUT 1500)
set_property(TEST tst_demo APPEND PROPERTY ENVIRONMENT_MODIFICATION "QTEST_FUNCTION_TIMEOUT=set:900000")

# tst_mainwindow under X (Xvfb, no window manager): the menu bar's titles,
# hover and keyboard as the xcb platform delivers them, and the standard keys
# X binds (Quit) that the offscreen platform does not.
find_program(XVFB_RUN xvfb-run)
if(XVFB_RUN)
  add_test(NAME tst_mainwindow_xvfb
    COMMAND ${XVFB_RUN} -a -s "-screen 0 1920x1200x24" $<TARGET_FILE:tst_mainwindow>
            shortcutsWorkAfterMenusFieldsAndDialogs "preferencesFromTheMenu:about box"
            "preferencesFromTheMenu:update box")
  set_tests_properties(tst_mainwindow_xvfb PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;QT_QUICK_BACKEND=software;VELTRANO_UPDATE_URL=http://127.0.0.1:9"
    TIMEOUT 300)
  if(VELTRANO_SANITIZE STREQUAL "address")
    set_tests_properties(tst_mainwindow_xvfb PROPERTIES ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::detect_leaks=0")
  endif()
endif()
