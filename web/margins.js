// The printer's unprintable margins as a person gives them: a length in
// inches on Letter paper and in millimetres on A4 (the paper's own units),
// turned into the printer's pixels at its resolution.

export function marginUnit(paper) {
    return paper === "letter" ? "in" : "mm";
}

// A length in inches, as the field shows it in unit: to a thousandth of an
// inch or a hundredth of a millimetre, with no trailing zeros.
export function marginValue(inches, unit) {
    return String(unit === "mm" ? Math.round(inches * 2540) / 100 : Math.round(inches * 1000) / 1000);
}

// The field's text as pixels at dpi, to the nearest; null unless it is a
// number of 0 or more. A hair is added before rounding so that a length
// typed from pixels (40 px at 300 dpi: 0.133333 in) gives those pixels back.
export function marginPixels(text, unit, dpi) {
    const value = Number(String(text).trim().replace(",", "."));
    if (String(text).trim() === "" || !Number.isFinite(value) || value < 0) {
        return null;
    }
    const inches = unit === "mm" ? value / 25.4 : value;
    return Math.floor(inches * dpi + 0.5 + 1e-6);
}
