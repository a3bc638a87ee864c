// The relay service comes here.
int main() { return 0; }
