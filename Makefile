# The README's commands, and CI's. Each target installs what is missing
# (Debian packages, the .venv), builds, and runs; a second call skips what
# is done.
PY      := .venv/bin/python
STAMPS  := .stamps
BUILD   := build/wheel
PYTEST_ARGS ?=

.PHONY: test demo bench build cpp-test py-test sanitize fuzz fuzz-smoke clean

$(STAMPS)/system: scripts/system-deps.sh
	@mkdir -p $(STAMPS)
	bash scripts/system-deps.sh
	@touch $@

$(STAMPS)/venv: requirements-dev.txt $(STAMPS)/system
	@mkdir -p $(STAMPS)
	test -x $(PY) || python3 -m venv .venv
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q -r requirements-dev.txt
	@touch $@

# One build serves both: the wheel's extension modules and the C++ tests
# (persistent build directory, so rebuilds are incremental).
build: $(STAMPS)/venv
	$(PY) -m pip install -q --no-build-isolation --no-deps . \
	  -Ccmake.define.QUELVAR_BUILD_TESTS=ON -Cbuild-dir=$(BUILD)

cpp-test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

py-test: build
	$(PY) -m pytest $(PYTEST_ARGS)

# The C++ suites again under AddressSanitizer and UBSan, engine only.
sanitize: $(STAMPS)/venv
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELVAR_SANITIZE=ON \
	  -DQUELVAR_BUILD_MODULES=OFF -DQUELVAR_BUILD_TESTS=ON > /dev/null
	cmake --build build/asan
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build/asan --output-on-failure -j2

# libFuzzer targets (clang). fuzz-smoke runs each briefly over a scratch copy
# of its corpus; `make fuzz FUZZ_SECONDS=600` runs longer and grows the corpus.
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 8
build/fuzz/.built: $(STAMPS)/venv $(wildcard cpp/*/*.cpp cpp/*/*.hpp cpp/fuzz/*.cpp)
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUELVAR_FUZZ=ON -DQUELVAR_BUILD_MODULES=OFF > /dev/null
	cmake --build build/fuzz
	@touch $@

fuzz-smoke: build/fuzz/.built
	@for f in build/fuzz/*_fuzz; do \
	  [ -x "$$f" ] || continue; n=$$(basename $$f); scratch=$$(mktemp -d); \
	  echo "fuzz smoke: $$n ($(FUZZ_SMOKE_SECONDS)s)"; \
	  $$f -max_total_time=$(FUZZ_SMOKE_SECONDS) -print_final_stats=1 $$scratch cpp/fuzz/corpus/$$n \
	    > $$scratch.log 2>&1 || { tail -40 $$scratch.log; exit 1; }; \
	  grep -E 'stat::number_of_executed_units' $$scratch.log; rm -rf $$scratch $$scratch.log; \
	done

fuzz: build/fuzz/.built
	@for f in build/fuzz/*_fuzz; do \
	  [ -x "$$f" ] || continue; n=$$(basename $$f); mkdir -p cpp/fuzz/corpus/$$n; \
	  echo "fuzz: $$n ($(FUZZ_SECONDS)s)"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) cpp/fuzz/corpus/$$n || exit 1; \
	done

test: cpp-test sanitize fuzz-smoke py-test

demo: build
	$(PY) -m quelvar_web.demo

bench: build
	@for b in bench/*.py; do echo "== $$b"; $(PY) $$b || exit 1; done

clean:
	rm -rf build build-* $(STAMPS)
