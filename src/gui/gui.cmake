# The desktop program: the main window, the track plot and the side windows,
# on Qt 6 Widgets and QCustomPlot. Included from the top-level CMakeLists.txt.
# QCustomPlot links PrintSupport itself and names it in its link interface.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets PrintSupport Svg)
find_package(QCustomPlotQt6 REQUIRED)

set(LORVANE_SRC ${CMAKE_CURRENT_LIST_DIR}/..)
set(LORVANE_GUI_SRC ${CMAKE_CURRENT_LIST_DIR})
set(LORVANE_DATA ${CMAKE_CURRENT_LIST_DIR}/../../data)

# Everything but main(), so that the tests can build the windows themselves.
add_library(lorvane_gui STATIC
  ${LORVANE_GUI_SRC}/app/Unit1.cpp
  ${LORVANE_GUI_SRC}/app/Unit1.h
  ${LORVANE_GUI_SRC}/app/main_window_commands.cpp
  ${LORVANE_GUI_SRC}/app/main_window_draw.cpp
  ${LORVANE_GUI_SRC}/app/main_window_library.cpp
  ${LORVANE_GUI_SRC}/app/main_window_channels.cpp
  ${LORVANE_GUI_SRC}/app/main_window_settings.cpp
  ${LORVANE_GUI_SRC}/app/app_settings.cpp
  ${LORVANE_GUI_SRC}/app/app_settings.h
  ${LORVANE_GUI_SRC}/app/preferences_dialog.cpp
  ${LORVANE_GUI_SRC}/app/preferences_dialog.h
  ${LORVANE_GUI_SRC}/app/client_layout.cpp
  ${LORVANE_GUI_SRC}/app/client_layout.h
  ${LORVANE_GUI_SRC}/app/gate_rules_dialog.cpp
  ${LORVANE_GUI_SRC}/app/gate_rules_dialog.h
  ${LORVANE_GUI_SRC}/app/load_worker.cpp
  ${LORVANE_GUI_SRC}/app/load_worker.h
  ${LORVANE_GUI_SRC}/app/library_worker.cpp
  ${LORVANE_GUI_SRC}/app/library_worker.h
  ${LORVANE_GUI_SRC}/common/prompts.cpp
  ${LORVANE_GUI_SRC}/common/prompts.h
  ${LORVANE_GUI_SRC}/common/window_style.cpp
  ${LORVANE_GUI_SRC}/common/window_style.h
  ${LORVANE_GUI_SRC}/display/track_plot.cpp
  ${LORVANE_GUI_SRC}/display/track_plot.h
  ${LORVANE_GUI_SRC}/display/lap_chart.cpp
  ${LORVANE_GUI_SRC}/display/lap_chart.h
  ${LORVANE_GUI_SRC}/display/coloured_path.cpp
  ${LORVANE_GUI_SRC}/display/coloured_path.h
  ${LORVANE_GUI_SRC}/display/plot_export.cpp
  ${LORVANE_GUI_SRC}/display/plot_export.h
  ${LORVANE_GUI_SRC}/display/lap_table_model.cpp
  ${LORVANE_GUI_SRC}/display/lap_table_model.h
  ${LORVANE_GUI_SRC}/dbtools/kml.cpp
  ${LORVANE_GUI_SRC}/dbtools/kml.h
  ${LORVANE_GUI_SRC}/dbtools/uAddCountryForm.cpp
  ${LORVANE_GUI_SRC}/dbtools/uAddCountryForm.h
  ${LORVANE_GUI_SRC}/dbtools/uAddToDataBase.cpp
  ${LORVANE_GUI_SRC}/dbtools/uAddToDataBase.h
  ${LORVANE_GUI_SRC}/dbtools/uCircuitsForm.cpp
  ${LORVANE_GUI_SRC}/dbtools/uCircuitsForm.h
  ${LORVANE_GUI_SRC}/dbtools/uSessionsForm.cpp
  ${LORVANE_GUI_SRC}/dbtools/uSessionsForm.h
  ${LORVANE_GUI_SRC}/dbtools/circuit_store.cpp
  ${LORVANE_GUI_SRC}/dbtools/circuit_store.h
)
set_target_properties(lorvane_gui PROPERTIES AUTOMOC ON)
target_include_directories(lorvane_gui PUBLIC ${LORVANE_SRC})
target_compile_definitions(lorvane_gui PUBLIC QCUSTOMPLOT_USE_LIBRARY)
target_link_libraries(lorvane_gui PUBLIC lorvane_workspace Qt6::Widgets Qt6::Svg QCustomPlotQt6::QCustomPlotQt6)

add_executable(lorvane ${LORVANE_GUI_SRC}/app/main.cpp ${LORVANE_DATA}/lorvane.qrc)
set_target_properties(lorvane PROPERTIES AUTORCC ON)
target_link_libraries(lorvane PRIVATE lorvane_gui)

install(TARGETS lorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${LORVANE_DATA}/lorvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${LORVANE_DATA}/lorvane.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
