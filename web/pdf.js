// The pages as one PDF, made as spool_to_pdf makes it (tools/pdf_pages.cpp)
// from the same trace of the software surface: every line of text in the
// standard Courier at its cell's size, stretched across so that each
// character advances one cell, its baseline where the surface's glyphs
// stand; every image the exact 1-bit pixels it left on the surface. The
// geometry is the tool's: the page a quarter pixel short of the sheet, each
// image inset by a quarter pixel, the content clipped to the drawable area,
// so that a renderer gives every image exactly its pixels.
import {
    PDFDocument, PDFHexString, StandardFonts, beginText, clip, concatTransformationMatrix, drawObject, endPath,
    endText, moveText, popGraphicsState, pushGraphicsState, rectangle, setCharacterSqueeze, setFontAndSize, showText,
} from "pdf-lib";

const pageShave = 0.25;
const imageInset = 0.25;
const courierAdvance = 0.6;
// libharu's bounds, which the tool's values are held to.
const maxFontSize = 600;
const minScaling = 10;
const maxScaling = 300;

function hex(bytes) {
    return Array.from(bytes, (byte) => byte.toString(16).padStart(2, "0")).join("");
}

// A number as libharu writes it into spool_to_pdf's PDF: held as a 32-bit
// float, then cut (not rounded) to five decimals. Written the same way, the
// two PDFs' pages are drawn alike to the pixel: a glyph a hundred-thousandth
// of a point apart can land on the other side of a pixel's edge.
function real(value) {
    const single = Math.fround(value);
    const size = Math.abs(single);
    const whole = Math.trunc(size + 0.000005);
    const fraction = Math.trunc(Math.fround(Math.fround(size - whole + 0.000005) * 100000));
    return Math.sign(single) * (whole + fraction / 100000);
}

function clamp(value, low, high) {
    return Math.min(Math.max(value, low), high);
}

function addPage(document, font, sheet, page) {
    const across = (x) => real((x * 72) / sheet.dpi);
    const up = (y) => real(((sheet.height - pageShave - y) * 72) / sheet.dpi);
    const pdfPage = document.addPage([across(sheet.width - pageShave), across(sheet.height - pageShave)]);
    const operators = [
        pushGraphicsState(),
        rectangle(across(sheet.offsetX), up(sheet.offsetY + sheet.areaHeight), across(sheet.areaWidth),
            across(sheet.areaHeight)),
        clip(),
        endPath(),
    ];
    const fontName = page.texts.length > 0 ? pdfPage.node.newFontDictionary("F", font.ref) : null;
    for (const line of page.texts) {
        const size = real(clamp((line.cellHeight * 72) / sheet.dpi, 0.01, maxFontSize));
        const scaling = real(clamp((100 * line.cellWidth) / (courierAdvance * line.cellHeight), minScaling, maxScaling));
        operators.push(beginText(), setFontAndSize(fontName, size), setCharacterSqueeze(scaling),
            moveText(across(line.x), up(line.baseline)), showText(PDFHexString.of(hex(line.bytes))), endText());
    }
    for (const image of page.images) {
        const stream = document.context.flateStream(image.rows, {
            Type: "XObject", Subtype: "Image", Width: image.width, Height: image.height,
            ColorSpace: "DeviceGray", BitsPerComponent: 1, Interpolate: false,
        });
        const name = pdfPage.node.newXObject("Im", document.context.register(stream));
        operators.push(pushGraphicsState(),
            concatTransformationMatrix(across(image.width - 2 * imageInset), 0, 0,
                across(image.height - 2 * imageInset), across(image.x + imageInset),
                up(image.y + image.height - imageInset)),
            drawObject(name), popGraphicsState());
    }
    operators.push(popGraphicsState());
    pdfPage.pushOperators(...operators);
}

// The PDF's bytes for the pages (each with its texts and images) of a sheet
// ({dpi, width, height, offsetX, offsetY, areaWidth, areaHeight});
// pageAdded(count) is called after each page.
export async function pagesAsPdf(pages, sheet, title, pageAdded = () => {}) {
    const document = await PDFDocument.create();
    document.setTitle(title);
    document.setProducer("Fernquill Desktop Spooler (web page)");
    document.setCreator("Fernquill Desktop Spooler (web page)");
    const font = await document.embedFont(StandardFonts.Courier);
    for (const [i, page] of pages.entries()) {
        addPage(document, font, sheet, page);
        pageAdded(i + 1);
    }
    return document.save();
}
