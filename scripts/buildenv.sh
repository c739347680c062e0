# Sourced by the build scripts from the clone's root: the compiler cache they all use. The
# cache takes paths relative to the clone's root and ignores the build folder's own path, so a
# clean clone in another folder of the same machine compiles from the cache.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
bw_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
