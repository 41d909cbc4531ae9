# Native targets: the host tests (tests/) and the simulated instrument with its self-test (sim/).
# The benchmarks need the Win32 programs and are built in the win32 tree (bench/).
add_subdirectory(tests)
add_subdirectory(sim)
