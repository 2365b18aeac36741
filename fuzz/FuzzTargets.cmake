# The fuzz targets: name, source in fuzz/, library under test. The corpus of
# each is fuzz/corpus/<name>. Shared by the libFuzzer build (fuzz/) and the
# plain replay in the test suite (tests/reliability/).
set(QUORVEX_FUZZ_TARGETS sdm_reader fmr_text fmr_document confound_table)
set(QUORVEX_FUZZ_sdm_reader_SOURCE SdmReaderFuzz.cpp)
set(QUORVEX_FUZZ_sdm_reader_LIBRARY qv_design)
set(QUORVEX_FUZZ_fmr_text_SOURCE FmrTextFuzz.cpp)
set(QUORVEX_FUZZ_fmr_text_LIBRARY qv_host)
set(QUORVEX_FUZZ_fmr_document_SOURCE FmrDocumentFuzz.cpp)
set(QUORVEX_FUZZ_fmr_document_LIBRARY qv_host)
set(QUORVEX_FUZZ_confound_table_SOURCE ConfoundTableFuzz.cpp)
set(QUORVEX_FUZZ_confound_table_LIBRARY qv_host)
set(QUORVEX_FUZZ_map_reader_SOURCE MapReaderFuzz.cpp)
set(QUORVEX_FUZZ_map_reader_LIBRARY qv_host)
list(APPEND QUORVEX_FUZZ_TARGETS map_reader)
# NIfTI runs are read only where the host is built with niftilib.
if(QUORVEX_HOST_NIFTI)
    set(QUORVEX_FUZZ_nifti_run_SOURCE NiftiRunFuzz.cpp)
    set(QUORVEX_FUZZ_nifti_run_LIBRARY qv_host)
    list(APPEND QUORVEX_FUZZ_TARGETS nifti_run)
endif()
set(QUORVEX_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
