# Shared by scripts/fuzz.sh and scripts/fuzz_smoke.sh (sourced from the repository root).

FUZZ_TARGETS=(read_ply read_xyz read_pcd read_las eigeng find_index_square4 kernel_estimate
              entry main_loop denoise)

# Configures build-fuzz with clang when needed and builds the given targets.
build_fuzzers() {
  command -v clang++ >/dev/null || { echo "clang++ is missing (apt-get install clang)" >&2; return 1; }
  if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
    CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build build-fuzz -j"$(nproc)" --target "$@"
}

# libFuzzer options of a target; $2 is the path of the repository root.
# -timeout: one input may take at most 10 s (a hang is a finding);
# -rss_limit_mb / -malloc_limit_mb: no input may make the harness hold more
# than 2 GiB or ask for more than 512 MiB at once (inputs are at most a few
# hundred KiB, so that would be an allocation the input does not justify);
# -max_len: large enough for a whole-pass input of 64 points.
fuzz_options() {
  local target=$1 root=$2
  local options="-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512"
  case $target in
    read_ply) options+=" -max_len=65536 -dict=$root/fuzz/dict/ply.dict" ;;
    read_pcd) options+=" -max_len=65536 -dict=$root/fuzz/dict/pcd.dict" ;;
    read_xyz) options+=" -max_len=65536 -dict=$root/fuzz/dict/xyz.dict" ;;
    read_las) options+=" -max_len=65536 -dict=$root/fuzz/dict/las.dict" ;;
    entry | main_loop) options+=" -max_len=8192" ;;
    denoise) options+=" -max_len=2048" ;;
    *) options+=" -max_len=4096" ;;
  esac
  echo "$options"
}

# One OpenMP thread per harness: inputs stay fast and deterministic.
export OMP_NUM_THREADS=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
