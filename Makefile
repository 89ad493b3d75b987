# Vidstill: the two everyday commands.
#   make demo   sets everything up, builds and runs the newest capability
#   make test   sets everything up, builds and runs every test
.PHONY: demo test deps build clean

BUILD ?= build
DEMO_DIR ?= $(BUILD)/demo

deps:
	@if [ "$$(id -u)" -eq 0 ]; then ./scripts/install-deps; else sudo ./scripts/install-deps; fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DVIDSTILL_WERROR=ON
	cmake --build $(BUILD)

demo: build
	mkdir -p $(DEMO_DIR)
	VIDSTILL_REGISTRY=$(abspath $(DEMO_DIR))/HKCU.reg $(BUILD)/tools/vidstill-settings-demo $(DEMO_DIR)

test: deps
	./scripts/run-tests

clean:
	rm -rf build build-asan build-tsan build-fuzz
