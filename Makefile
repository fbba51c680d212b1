# The README's commands, and CI's. Each target installs what is missing
# (Debian packages, the .venv), builds, and runs; a second call skips what
# is done.
PY      := .venv/bin/python
STAMPS  := .stamps
BUILD   := build/wheel
PYTEST_ARGS ?=

.PHONY: test demo bench build cpp-test py-test clean

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

test: cpp-test py-test

demo: build
	$(PY) -m quelvar_web.demo

bench: build
	@for b in bench/*.py; do echo "== $$b"; $(PY) $$b || exit 1; done

clean:
	rm -rf build build-* $(STAMPS)
