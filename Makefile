# The two commands of the README, plus the benchmark and ThreadSanitizer builds.
JOBS    ?= $(shell nproc)
GEN     := -G Ninja
BUILD   := build

.PHONY: run test test-asan test-fuzz bench tsan deps release clean format check-format

deps:
	bash scripts/install-deps.sh

release: deps
	cmake -S . -B $(BUILD)/release $(GEN) -DCMAKE_BUILD_TYPE=Release -DVELT_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS)

run: release
	bash scripts/run-server.sh $(BUILD)/release

# Every test under AddressSanitizer and UndefinedBehaviorSanitizer (g++), then the short fuzz
# smokes (libFuzzer needs clang, so they live in a build of their own).
test: deps check-format test-asan test-fuzz

# Every C and C++ file in the one style of .clang-format; `make test` fails on a file that is not.
check-format: deps
	bash scripts/check-format.sh

format: deps
	git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i

test-asan:
	cmake -S . -B $(BUILD)/asan $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVELT_SANITIZE=address,undefined
	cmake --build $(BUILD)/asan -j $(JOBS)
	ctest --test-dir $(BUILD)/asan --output-on-failure -j $(JOBS) -LE fuzz

test-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_FUZZ=ON -DVELT_TESTS=OFF
	cmake --build $(BUILD)/fuzz -j $(JOBS)
	ctest --test-dir $(BUILD)/fuzz --output-on-failure -j $(JOBS) -L fuzz

tsan: deps
	cmake -S . -B $(BUILD)/tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_SANITIZE=thread
	cmake --build $(BUILD)/tsan -j $(JOBS)
	ctest --test-dir $(BUILD)/tsan --output-on-failure -j $(JOBS) -LE fuzz

bench:
	bash scripts/install-deps.sh --bench
	cmake -S . -B $(BUILD)/bench $(GEN) -DCMAKE_BUILD_TYPE=Release -DVELT_TESTS=OFF -DVELT_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)
	bash scripts/run-benchmarks.sh $(BUILD)/bench

clean:
	rm -rf $(BUILD)
