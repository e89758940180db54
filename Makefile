BUILD_DIR := build/windows
CMAKE_FLAGS := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake

.PHONY: all deps build test demo bench sign dist clean

all: build

deps:
	@sh scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j2

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j3

demo: build
	sh scripts/demo.sh $(BUILD_DIR)

bench: build
	bash scripts/bench.sh $(BUILD_DIR)

# make sign CERT=cert.pem KEY=key.pem, or make sign PFX=bundle.pfx; SIGN_PASSWORD and
# SIGN_TIMESTAMP_URL from the environment. Writes $(BUILD_DIR)/signed/tessarune.exe.
sign: build
	sh scripts/sign.sh $(BUILD_DIR)/tessarune.exe $(BUILD_DIR)/signed/tessarune.exe $(or $(PFX),$(CERT) $(KEY))

# make dist, or with CERT=.. KEY=.. or PFX=.. as for make sign: the zips in $(BUILD_DIR)/dist.
dist: build
	sh scripts/dist.sh $(BUILD_DIR) $(or $(PFX),$(CERT) $(KEY))

clean:
	rm -rf build
