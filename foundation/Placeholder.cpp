int tavelinPlaceholder() { return 1; }
