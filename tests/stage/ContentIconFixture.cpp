// A program that does nothing: the content tests copy it and give the copy an icon.
int main() { return 0; }
