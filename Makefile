# The two commands of the README, and a few more for developers.
.PHONY: run test deps build bench fuzz package clean

deps:
	scripts/install-deps

build: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
	cmake --build build-release

run: build
	scripts/demo build-release

test: deps
	scripts/test

bench: build
	scripts/install-deps --bench
	for bench in build-release/bench/*Bench; do "$$bench"; done

fuzz: deps
	scripts/fuzz 60

# A Debian package of a release build without tests: build-pkg/pexil_VERSION_ARCH.deb. Only the
# programs and the manual page are built (the package holds nothing else that is compiled).
package: deps
	cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
		-DPEXIL_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
	cmake --build build-pkg --target pexil pexilctl pexilctl_man
	cd build-pkg && cpack

clean:
	rm -rf build-release build-asan build-fuzz build-pkg
