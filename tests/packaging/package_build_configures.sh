#!/usr/bin/env bash
# A build with the tests off configures without GoogleTest, QtTest and Qt Serial Port, builds
# the program and the simulator, and nothing in it links a test library or libserialport.
#   package_build_configures.sh CMAKE SOURCE_DIR WORK_DIR
set -euo pipefail
cmake=$1 src=$2 work=$3
rm -rf "$work"
"$cmake" -S "$src" -B "$work" -G Ninja -DSWB808_BUILD_TESTS=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6SerialPort=ON >"$work.log" 2>&1 || { cat "$work.log"; exit 1; }
targets=$("$cmake" --build "$work" --target help)
for wanted in swb808 swb808-sim; do
    grep -qE "^$wanted: " <<<"$targets" || { echo "no target $wanted"; exit 1; }
done
if grep -E '^[a-z_]+_(test|bench|fuzz): ' <<<"$targets"; then
    echo "tests, benchmarks or fuzz targets in a build without tests"; exit 1
fi
if grep -oE 'lib(gtest|gmock|Qt6Test|Qt6SerialPort|serialport)[^ ]*' "$work/build.ninja" | sort -u | grep .; then
    echo "a test or peer library is linked in a build without tests"; exit 1
fi
rm -rf "$work" "$work.log"
