# The Qt side of the serial port's notification hand-over (included from ui/CMakeLists.txt).
add_library(swb808_qt_notify STATIC ${CMAKE_CURRENT_LIST_DIR}/qt_port_notifier.cpp)
target_include_directories(swb808_qt_notify PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(swb808_qt_notify PUBLIC Qt6::Core swb808_serial)
swb808_warnings(swb808_qt_notify)
