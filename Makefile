BUILD_DIR := build/windows
CMAKE_FLAGS := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake

.PHONY: all deps build test demo clean

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j2

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure

demo: build
	sh scripts/demo.sh $(BUILD_DIR)

clean:
	rm -rf build
