# Vidstill: the two everyday commands.
#   make demo   sets everything up, builds, makes a sample clip and saves
#               stills from it with the program, headless
#   make run    the same set-up, then the program's window on the sample clip
#   make test   sets everything up, builds and runs every test
.PHONY: demo run test deps build clean

BUILD ?= build
DEMO_DIR ?= $(BUILD)/demo

deps:
	@if [ "$$(id -u)" -eq 0 ]; then ./scripts/install-deps; else sudo ./scripts/install-deps; fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DVIDSTILL_WERROR=ON
	cmake --build $(BUILD)

demo: build
	BUILD=$(BUILD) DEMO_DIR=$(DEMO_DIR) ./scripts/demo

run: build
	mkdir -p $(DEMO_DIR)
	[ -f $(DEMO_DIR)/sample.mp4 ] || $(BUILD)/tools/mkmedia/mkmedia $(DEMO_DIR)/sample.mp4 --size 640x360 --rate 25/1 --frames 250 --gop 50
	VIDSTILL_REGISTRY=$(abspath $(DEMO_DIR))/HKCU.reg $(BUILD)/bin/vidstill $(DEMO_DIR)/sample.mp4

test: deps
	./scripts/run-tests

clean:
	rm -rf build build-asan build-tsan build-fuzz
