.pragma library

// The text of a label with its mnemonic marks taken out: "&Run" reads "Run",
// "Save && Quit" reads "Save & Quit". Built-in labels do this themselves; the
// controls that draw their own text use this.
function plainText(text) {
    if (text === undefined || text === null)
        return ""
    return String(text).replace(/&(&?)/g, function(match, second) { return second })
}
