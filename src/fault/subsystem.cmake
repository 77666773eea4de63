# The security queries find the common application-data folder through the shell library.
target_link_libraries(NRVOSSE PRIVATE shell32)
