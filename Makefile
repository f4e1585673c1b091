# make run   installs what is missing, builds, starts the program
# make test  installs what is missing, builds, runs every test
PRESET ?= dev

.PHONY: run test asan fuzz bench package format format-check clean deps-run deps-test deps-package

deps-run:
	@scripts/deps.sh run

deps-test:
	@scripts/deps.sh test

deps-package:
	@scripts/deps.sh package

# Configured again when the presets, a CMakeLists.txt or a CMake module
# change: ninja reruns cmake for the last two itself, but a preset's cache
# variables reach the build only through cmake --preset. The touch marks the
# configure done even where cmake left build.ninja as it was.
CMAKE_INPUTS = CMakePresets.json $(shell git ls-files '*CMakeLists.txt' '*.cmake' 2>/dev/null)

build/$(PRESET)/build.ninja: $(CMAKE_INPUTS)
	cmake --preset $(PRESET) >/dev/null
	touch $@

run: deps-run build/$(PRESET)/build.ninja
	cmake --build --preset $(PRESET)
	build/$(PRESET)/tamberlode

test: deps-test build/$(PRESET)/build.ninja
	cmake --build --preset $(PRESET)
	ctest --preset $(PRESET) -j2
	scripts/wine-tests.sh

asan: deps-test
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan -j2

bench: deps-run
	cmake --preset release >/dev/null
	cmake --build --preset release
	for b in build/release/bench/*_bench; do $$b; done

# The four packages, in build/packages/: the Debian package of the release
# build, and the Windows setup, MSI and portable zip of the 32-bit program
# (win32 preset). Builds only what the packages hold.
package: deps-package
	cmake --preset release >/dev/null
	cmake --build --preset release --target shipped
	rm -f build/release/packages/*.deb
	cpack --config build/release/CPackConfig.cmake -B build/release/packages
	cmake --preset win32 >/dev/null
	rm -f build/win32/installer/*.msi build/win32/installer/*-setup.exe build/win32/installer/*.zip
	cmake --build --preset win32 --target windows_packages
	rm -rf build/packages && mkdir -p build/packages
	cp build/release/packages/*.deb build/win32/installer/*.msi build/win32/installer/*-setup.exe \
	   build/win32/installer/*.zip build/packages/
	@ls -l build/packages

SOURCES = git ls-files --cached --others --exclude-standard '*.cpp' '*.h'

format:
	$(SOURCES) | xargs -r clang-format -i

format-check:
	$(SOURCES) | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf build
