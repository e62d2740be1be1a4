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

# The serial control's tests under ThreadSanitizer, in build-tsan: the one
# part of the program with a thread of its own.
test-tsan: deps
	@cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

# The Settings parser under libFuzzer (Clang), a million inputs, in
# build-fuzz; new inputs it finds stay in build-fuzz/corpus.
FUZZ_DIR := build-fuzz
fuzz: deps
	@cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/line_settings_fuzzer -runs=1000000 -max_len=128 -dict=fuzz/settings.dict \
	    -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus fuzz/seeds

clean:
	rm -rf $(BUILD_DIR)
