# The unit suite's sources, written once for every system's build of it. Those that need what POSIX
# systems alone have (the fault seam, which forks a child per point) come apart.
set(QEV_UNIT_TEST_SOURCES
  test_main.cpp
  support.cpp
  reference_sha256.cpp
  sync_notebooks_test.cpp
  dispatcher_test.cpp
  file_primitives_test.cpp
  file_hash_test.cpp
  meta_json_test.cpp
  update_meta_hashes_test.cpp
  init_test.cpp
  plan_test.cpp
  status_test.cpp
  workspace_test.cpp
  platform_test.cpp
  path_forms_test.cpp
  self_location_test.cpp
)
set(QEV_POSIX_UNIT_TEST_SOURCES
  status_data_test.cpp
  run_fixtures.cpp
  fault_sweep_test.cpp
)
