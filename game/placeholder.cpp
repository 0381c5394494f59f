// Keeps the library non-empty until its first component lands.
