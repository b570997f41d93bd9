# The two commands of the README, and a few more for developers.
.PHONY: run test deps build bench fuzz clean

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
	command -v vipsthumbnail >/dev/null || scripts/install-deps --bench
	for bench in build-release/bench/*Bench; do "$$bench"; done

fuzz: deps
	scripts/fuzz 60

clean:
	rm -rf build-release build-asan build-fuzz
