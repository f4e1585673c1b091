# make run   installs what is missing, builds, starts the program
# make test  installs what is missing, builds, runs every test
PRESET ?= dev

.PHONY: run test asan fuzz bench package format format-check clean deps-run deps-test

deps-run:
	@scripts/deps.sh run

deps-test:
	@scripts/deps.sh test

build/$(PRESET)/build.ninja:
	cmake --preset $(PRESET) >/dev/null

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

# The Debian package of the release build: build/release/packages/tamberlode_*.deb
# Builds only what the package holds.
package: deps-run
	cmake --preset release >/dev/null
	cmake --build --preset release --target shipped
	cpack --config build/release/CPackConfig.cmake -B build/release/packages

SOURCES = git ls-files --cached --others --exclude-standard '*.cpp' '*.h'

format:
	$(SOURCES) | xargs -r clang-format -i

format-check:
	$(SOURCES) | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf build
