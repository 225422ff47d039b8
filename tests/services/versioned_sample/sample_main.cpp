// Carries the version resource that the version query tests read.
int main() { return 0; }
