#!/bin/sh
# Installs the build into a temporary prefix and builds a user's program against it,
# once with pkg-config and once with the CMake package.
set -eu
build=$1 prog=$2 cxx=$3 every=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in include/otkit/otstring.h lib/libotkit.so lib/pkgconfig/otkit.pc lib/cmake/otkit/otkitConfig.cmake; do
  [ -e "$tmp/prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
# With the GUI, the studio library and its forms' headers too.
if [ -e "$build/hxstudio/libotstudio.so" ]; then
  for f in include/otstudio/uiform.h include/otstudio/ui_dlgproperty.h lib/libotstudio.so \
           lib/pkgconfig/otstudio.pc bin/hxstudio; do
    [ -e "$tmp/prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
  done
  # The Qt Designer plug-in where QT_PLUGIN_PATH=<prefix>/lib/qt5/plugins finds it, finding its
  # libraries from there without LD_LIBRARY_PATH.
  plugin=$tmp/prefix/lib/qt5/plugins/designer/libhxcdesigner.so
  [ -e "$plugin" ] || { echo "missing after install: the Designer plug-in"; exit 1; }
  if ldd "$plugin" | grep "not found"; then echo "the installed plug-in misses libraries"; exit 1; fi
fi
flags=$(PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" pkg-config --cflags --libs otkit)
"$cxx" "$prog" $flags -o "$tmp/prog"
out=$(LD_LIBRARY_PATH="$tmp/prefix/lib" "$tmp/prog")
[ "$out" = "otkit says hello 42" ] || { echo "pkg-config program printed: $out"; exit 1; }

mkdir "$tmp/user"
cp "$prog" "$tmp/user/prog.cpp"
cat > "$tmp/user/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(user CXX)
find_package(otkit REQUIRED)
add_executable(prog prog.cpp)
target_link_libraries(prog PRIVATE otkit::otkit)
CM
cmake -S "$tmp/user" -B "$tmp/user/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$tmp/user/build" >/dev/null
out=$("$tmp/user/build/prog")
[ "$out" = "otkit says hello 42" ] || { echo "CMake program printed: $out"; exit 1; }

# Every exported target: a consumer of the libraries without Qt, and (with the GUI) one of the
# widget library, which brings Qt and Qwt through the package.
mkdir "$tmp/every"
cp "$every" "$tmp/every/every.cpp"
cat > "$tmp/every/widgets.cpp" <<'CPP'
#include <QApplication>
#include "mywidgets.h"
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int s = -1;
  MyLabel label(&s, 1, nullptr);
  return label.parentWidget() == nullptr ? 0 : 1;
}
CPP
cat > "$tmp/every/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(every CXX)
find_package(otkit REQUIRED)
add_executable(every every.cpp)
target_link_libraries(every PRIVATE otkit::otkit otkit::otserver otkit::glencode otkit::otnodave)
if(TARGET otkit::otwidgets)
  add_executable(widgets widgets.cpp)
  target_link_libraries(widgets PRIVATE otkit::otwidgets)
endif()
CM
cmake -S "$tmp/every" -B "$tmp/every/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$tmp/every/build" >/dev/null
out=$("$tmp/every/build/every")
[ "$out" = "every library: 1234 4 ok -1 0" ] || { echo "every target printed: $out"; exit 1; }
if [ -e "$build/widgets/libotwidgets.so" ]; then
  [ -x "$tmp/every/build/widgets" ] || { echo "no consumer of otkit::otwidgets was built"; exit 1; }
  QT_QPA_PLATFORM=offscreen "$tmp/every/build/widgets" || { echo "the widget consumer failed"; exit 1; }
fi
echo "install test passed"
