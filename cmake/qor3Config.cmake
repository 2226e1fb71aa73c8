# CMake package of qor3: find_package(qor3) gives the imported target qor3::qor3 (libqor3.so
# and the directory of qor3.h).
include("${CMAKE_CURRENT_LIST_DIR}/qor3Targets.cmake")
