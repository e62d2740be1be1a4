# The two quick-start commands are `make run` and `make test`; both install
# what is missing first.

BUILD_DIR := build
PRESET    := default
JOBS      ?= $(shell nproc)

.PHONY: all deps configure build run demo screenshots deb lintian check-installed bench test test-desktop test-vm test-debian13 test-clang test-asan test-tsan fuzz clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

# Starts the program; port 1 is the machine's first serial port (README).
run: build
	$(BUILD_DIR)/linewatch

# linewatch with a simulated sensor standing in for port 1 (needs a display;
# root, or unprivileged user namespaces, for the private mount namespace).
demo: build
	scripts/demo.sh

# The README's pictures, from the real program under Xvfb: docs/*.png.
screenshots: build
	scripts/screenshots.sh

# The Debian packages, built with dpkg-buildpackage from debian/ (the tests
# that a build environment allows run in the build):
# build/linewatch_<version>_<arch>.deb, its -dbgsym package and the source.
deb: deps
	scripts/build-deb.sh

# lintian on the packages and the source, pedantic: any error or warning fails.
lintian: deb
	lintian --pedantic --fail-on error,warning build/linewatch_*_source.changes build/linewatch_*_$(shell dpkg --print-architecture).changes

# Installs that package, checks its manual page and desktop files, removes
# it; then installs it without recommended packages in a fresh root of this
# machine's release (build/installed-root, root or sudo) and starts it there
# under Xvfb: what it depends on must be enough to open its window.
check-installed: deb
	scripts/check-installed.sh

# Figures for the text box and the serial path (several minutes each; --quick
# for a short run): build/bench_textbox, then the storage (memory per
# character, long texts, a full text box in a memory cgroup as root) and the
# choice of compressor, then handing a long text over (clipboard, context
# menu, assistive technology, paste; on an X server of its own).
# build/bench_soak --seconds 600 is the long run.
bench: build
	$(BUILD_DIR)/bench_textbox
	$(BUILD_DIR)/bench_storage
	$(BUILD_DIR)/bench_compression
	$(BUILD_DIR)/bench_transfer

# The whole suite, headless (Qt's offscreen platform; the program test brings
# its own Xvfb and session bus). It fails too if a process it started
# outlives it.
test: build
	scripts/without-strays.sh ctest --preset $(PRESET) -j $(JOBS)

# The suite again as on a desktop installation, where dbus-x11 is installed
# (D-Bus then starts a session bus on demand for a program that finds none):
# once with no session bus, once inside one. It fails, too, on a bus daemon
# left behind.
test-desktop: build
	@scripts/install-deps.sh dbus-x11
	env -u DBUS_SESSION_BUS_ADDRESS scripts/without-strays.sh ctest --preset $(PRESET) -j $(JOBS)
	dbus-run-session -- scripts/without-strays.sh ctest --preset $(PRESET) -j $(JOBS)

# The built program on real serial drivers: a QEMU guest with Debian's kernel,
# a 16550 and an FT232 adapter that the test unplugs and plugs back
# (tests/vm/run.py says what it checks). The kernel and initramfs are kept in
# build-vm. The timeout only guards against a hung guest; a run takes about
# two minutes.
test-vm: build
	tests/vm/prepare.sh
	timeout 900 python3 tests/vm/run.py

# The quick start on a fresh Debian 13, from this machine (root): a root made
# by debootstrap in build-trixie; there make and git installed, the committed
# project cloned, and make test, test-desktop, test-clang, lintian and
# check-installed (which makes a fresh root of its own in turn).
test-debian13:
	scripts/fresh-debian.sh trixie test test-desktop test-clang "lintian check-installed"

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# in build-asan.
test-asan: deps
	@cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The whole suite built by Clang, in build-clang: the release's Clang must
# take the code without a warning too.
test-clang: deps
	@cmake --preset clang >/dev/null
	cmake --build --preset clang -j $(JOBS)
	scripts/without-strays.sh ctest --preset clang -j $(JOBS)

# The whole suite again under ThreadSanitizer, in build-tsan, the program
# itself included (ProgramTest runs it): the serial reader's and the text
# compression's threads, and Qt's own (pooled painting, the X event reader,
# D-Bus). Qt is not instrumented; tests/sanitizers/tsan.supp says what of it
# is left out and why. The first report stops the test it comes up in. Two
# tests are left out: they weigh or cap the process's own memory, of which
# TSan's runtime takes a share (CMakePresets.json says more).
test-tsan: deps
	@cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

# The fuzzers under libFuzzer (Clang), in build-fuzz, each a fixed number of
# inputs from its seeds in fuzz/seeds/<name>: the Settings parser and the
# reading of a lock file another program left (a million each, seconds),
# and the text box's engine against QStrings (20000, about a minute). New
# inputs each finds stay in build-fuzz/corpus/<name>; an input that fails
# is written to build-fuzz, and the run's "INFO: Seed:" given back as
# -seed= repeats the run.
FUZZ_DIR := build-fuzz
FUZZ_FLAGS = -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/$(1) fuzz/seeds/$(1)
fuzz: deps
	@cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/corpus/line-settings $(FUZZ_DIR)/corpus/lock-file $(FUZZ_DIR)/corpus/text-engine
	$(FUZZ_DIR)/line_settings_fuzzer -runs=1000000 -max_len=128 -dict=fuzz/settings.dict \
	    $(call FUZZ_FLAGS,line-settings)
	$(FUZZ_DIR)/lock_file_fuzzer -runs=1000000 -max_len=128 $(call FUZZ_FLAGS,lock-file)
	$(FUZZ_DIR)/text_engine_fuzzer -runs=20000 -max_len=1024 $(call FUZZ_FLAGS,text-engine)

clean:
	rm -rf $(BUILD_DIR)
