// The ZIP archive writer comes here.
