// The program that links one layer of src/ whole with the layers below it;
// it is built, never run.
int main() { return 0; }
