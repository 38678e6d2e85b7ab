# Two commands for a fresh Debian 12 or 13 machine: `make run` and `make test`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
JOBS       ?= $(shell nproc)
# The program folder of `make install`: one the user can write, since the
# catalogue is created beside the program.
PREFIX     ?= $(HOME)/.local/opt/kalvero

.PHONY: deps configure build program run test test-asan bench install uninstall clean

# Which packages `deps` makes sure of (see scripts/install-deps.sh): each goal
# asks for what it needs, and the goals it depends on inherit that.
DEPS = test
install uninstall: DEPS = program
run: DEPS = run

deps:
	@scripts/install-deps.sh $(DEPS)

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVERO_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# Running needs only the program folder; `make test` builds everything.
program: configure
	@cmake --build $(BUILD) -j$(JOBS) --target program

run: program
	@scripts/run.sh $(BUILD)/bin/kalvero

test: build
	@scripts/test.sh $(BUILD) $(BUILD_ASAN)

bench: build
	@scripts/bench.sh $(BUILD)

# A relative PREFIX is taken from the folder make runs in. Only the program
# folder is built: the tests and benchmarks are not installed.
install: program
	@prefix="$(PREFIX)"; case "$$prefix" in /*) ;; *) prefix="$$PWD/$$prefix" ;; esac; \
	cmake --install $(BUILD) --prefix "$$prefix"

uninstall: configure
	@cmake -DPREFIX="$(PREFIX)" -DKALVERO_SETTINGS=$(BUILD)/user-install/settings.cmake \
	    -P cmake/UserInstall.cmake

clean:
	rm -rf $(BUILD) $(BUILD_ASAN)
