"""korgen: reads the kor catalogue schema and emits the C++ bindings."""
